#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/) from
the protocol's worked frames. The input layouts are those the targets read
with FuzzInput (fuzz_input.h): bytes front to back, 16- and 32-bit values
least significant first, byte arrays as a length byte and the bytes.

Run it from anywhere; it rewrites the seed files it owns."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u8(v):
    return bytes([v & 0xFF])


def u16(v):
    return struct.pack('<H', v & 0xFFFF)


def i32(v):
    return struct.pack('<i', v)


def blob(data):
    return u8(len(data)) + bytes(data)


def text(s):
    return blob(s.encode('utf-8'))


def number(v):
    """FuzzInput::number(): selector 2 and a 32-bit value reach any value."""
    return u8(2) + i32(v)


def hexbytes(spaced):
    return bytes.fromhex(spaced.replace(' ', ''))


NAMES = ["X", "Y", "M", "SM", "S", "T", "C", "D", "D_bit", "SD", "TV", "CV", "32CV",
         "", "Q", "d", "D_BIT", "X "]


def name(n):
    return u8(NAMES.index(n))


TABLE = ["X", "Y", "M", "SM", "S", "T", "C", "D", "D_bit", "SD", "TV", "CV", "32CV"]

ACK = hexbytes('06')
NAK = hexbytes('15')


def replies_seeds():
    # header: BlockSize - 1, RetryLimit, HostId + 1, kind
    def head(host_id=0, retry=2, block=64):
        return u8(block - 1) + u8(retry) + u8(host_id + 1)

    def read(reg, addr, count_byte):
        return u8(0) + u8(TABLE.index(reg)) + u16(addr) + u8(count_byte)

    seeds = {}
    # D100, one word: the worked reply "1234" with sum CD, then a NAK, nothing, the reply again.
    d100 = hexbytes('02 31 32 33 34 03 43 44')
    seeds['read_d100'] = head() + read('D', 100, 0) + blob(d100) + blob(NAK) + blob(b'') + blob(d100)
    # The same reply with a lower-case sum, for HostId 3 (codes 14, 44, 74).
    seeds['read_d100_lowercase_sum'] = (head(host_id=3) + read('D', 100, 0)
                                        + blob(hexbytes('02 31 32 33 34 03 63 64')) + blob(d100))
    # M16..M23 from the data characters A5 (sum 0x41 + 0x35 + 0x03 = 0x79).
    seeds['read_m16'] = head() + read('M', 2, 0) + blob(hexbytes('02 41 35 03 37 39'))
    # C203 from 78563412 (sum 0x1A7: A7).
    seeds['read_32cv_c203'] = (head() + read('32CV', 3, 1)
                               + blob(hexbytes('02 37 38 35 36 33 34 31 32 03 41 37')))
    # X20..X37: two bytes.
    seeds['read_x16'] = head() + read('X', 2, 1) + blob(hexbytes('02 30 31 38 30 03 43 43'))
    # Force Y5 ON: ACK, then NAK and two ACKs where one is expected.
    seeds['force_y5'] = (head() + u8(1) + u8(0) + u16(5) + u8(1)
                         + blob(ACK) + blob(NAK) + blob(ACK + ACK) + blob(ACK))
    # D200, D201 = 1, -1: one ACK.
    seeds['write_d200'] = (head() + u8(2) + u8(0) + u16(200) + u8(1)
                           + blob(hexbytes('01 00 FF FF')) + blob(ACK) + blob(b''))
    # Bit 3 of D10: the read answered with D10 = 0 (sum C3), then ACK to the write.
    seeds['dbit_d10_3'] = (head() + u8(3) + u16(81) + u8(1) + u8(1)
                           + blob(hexbytes('02 30 30 30 30 03 43 33')) + blob(ACK))
    return seeds


def address_tools_seeds():
    def case(reg, addr, count, language, address_type, start, copies, step):
        kind = {0: u8(1) + u8(0), 1: u8(2) + u8(0)}[address_type]
        return (name(reg) + text(addr) + number(count) + u8(language) + kind
                + number(start) + number(copies) + number(step))

    return {
        'x_377': case('X', '377', 1, 1, 0, 15, 3, 1),
        'x_clamped': case('X', '370', 9, 0, 0, 250, 8, 2),
        'm_clamped': case('M', '7999', 1, 1, 0, 7990, 10, 1),
        'sm_8255': case('SM', '8255', 1, 1, 0, 8200, 2, 100),
        'dbit_100_07': case('D_bit', '100.07', 1, 0, 0, 1607, 2, 9),
        'dbit_last': case('D_bit', '7999.15', 1, 1, 0, 127990, 2, 5),
        '32cv_255': case('32CV', '255', 1, 1, 1, 200, 3, 20),
        'd_space': case('D', '1 0', 1, 0, 1, 0, 0, 1),
        'unknown_q': case('Q', '12', 1, 1, 1, 5, 2, 1),
        'cv_200': case('CV', '200', 1, 1, 1, 190, 12, 1),
    }


def host_calls_seeds():
    def com_info(block=16, retry=2, write_mode=2, station_per_var=0):
        return (number(block) + u8(1) + number(retry) + u8(station_per_var) + u8(write_mode)
                + number(9)) + u8(1) + u8(1)  # SetComInfo, callback

    def op(n):
        return u8(n)

    def rebuild(records):
        out = op(6) + u8(len(records))
        for reg, addr, length in records:
            out += name(reg) + number(addr) + number(length)
        return out

    def set_values(reg, index, values, count):
        return op(5) + name(reg) + number(index) + number(0) + number(count) + blob(values)

    def com():
        return op(7)

    def good(chars=b''):
        return op(9) + u8(0) + bytes(chars)

    def bad(reply):
        return op(9) + u8(1) + blob(reply)

    def once(reg, addr, count, host_id=1, sub_id=2):
        return (op(3) + number(host_id) + number(sub_id) + u8(0) + name(reg) + number(addr)
                + number(0) + number(count) + blob(b''))

    return {
        'cyclic_d100_d101': (com_info() + rebuild([('D', 100, 1), ('D', 101, 1)])
                             + com() + good(b'\x01\x02\x03\x04\x05\x06\x07\x08')
                             + com() + bad(b'') + com() + bad(NAK) + com() + bad(b'')),
        'queue_m10': (com_info() + set_values('M', 10, b'\x01\x00\x01', 3)
                      + com() + good() + com() + good() + com() + bad(NAK) + com() + good()),
        'queue_d_70_words': (com_info(block=32) + set_values('D', 0, bytes(range(140)), 70)
                             + com() + good() + com() + good() + com() + good()),
        'dbit_pair': (com_info() + set_values('D_bit', 163, b'\x01', 1)
                      + com() + good(b'\x00\x00\x00\x00') + com() + good()),
        'once_d0_100': (com_info(block=32) + once('D', 0, 100) + once('M', 0, 500)
                        + com() + good(bytes(64)) + com() + bad(b'\x06\x06')),
        'image_only_x8': (com_info(write_mode=0) + set_values('X', 8, b'\x01\x01', 2)
                          + op(4) + name('X') + number(8) + number(2) + blob(b'')),
        'block_size_zero': (com_info(block=0) + once('D', 0, 10)
                            + rebuild([('X', 0, 300), ('D_bit', 163, 20)]) + com()),
    }


def request_parser_seeds():
    def raw(data):
        return u8(0) + blob(data)

    read_d100 = hexbytes('02 30 31 30 43 38 30 32 03 37 31')
    write_d100 = hexbytes('02 31 31 30 43 38 30 32 33 34 31 32 03 33 43')
    force_y5 = hexbytes('02 37 30 35 30 35 03 30 34')
    return {
        'read_d100': raw(read_d100),
        'write_d100': raw(write_d100),
        'force_y5': raw(force_y5),
        'enq_garbage_then_frame': raw(b'\x05xyz\x03' + read_d100[:4]) + raw(read_d100[4:]),
        'bad_sum': raw(hexbytes('02 30 31 30 43 38 30 32 03 37 32')),
        'encoded_mix': (u8(1) + u16(0x10C8) + u8(2) + u8(2) + u16(0x0E00) + blob(b'\x0a\x00')
                        + u8(3) + u8(1) + u16(0x0505) + raw(b'\x02\x02\x02')),
    }


def write(target, seeds):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for label, data in seeds.items():
        with open(os.path.join(folder, label), 'wb') as f:
            f.write(data)


write('fuzz_replies', replies_seeds())
write('fuzz_address_tools', address_tools_seeds())
write('fuzz_host_calls', host_calls_seeds())
write('fuzz_request_parser', request_parser_seeds())
