// An independent Sparkplug B codec for the gateway's tests, on npm's
// sparkplug-payload:
//   node spb.js decode        stdin: "TOPIC HEX" lines (mosquitto_sub -F '%t %x');
//                             stdout: one JSON line per message
//   node spb.js encode FILE   stdin: a payload as JSON; FILE: its Sparkplug B bytes
// A data message's metrics name no datatype: it is taken from the aliases of
// the device's latest birth, as a host does.
'use strict';
const payloads = require('sparkplug-payload').get('spBv1.0');
const Payload = require('sparkplug-payload/lib/sparkplugPayloadProto').org.eclipse.tahu.protobuf.Payload;
const fs = require('fs');
const readline = require('readline');

const plain = (v) => (v !== null && typeof v === 'object' && typeof v.toNumber === 'function' ? v.toNumber() : v);

function decodeLines() {
  const types = new Map(); // "group/edge[/device]" -> alias -> datatype number
  readline.createInterface({ input: process.stdin }).on('line', (line) => {
    const space = line.indexOf(' ');
    const topic = space < 0 ? line : line.slice(0, space);
    const bytes = Buffer.from(space < 0 ? '' : line.slice(space + 1), 'hex');
    const levels = topic.split('/');
    if (levels[0] !== 'spBv1.0' || levels[1] === 'STATE') return;
    const device = [levels[1], levels[3], levels[4] || ''].join('/');
    const raw = Payload.decode(bytes);
    if (levels[2].endsWith('BIRTH')) {
      types.set(device, new Map(raw.metrics.filter((m) => Object.prototype.hasOwnProperty.call(m, 'alias')).map((m) => [plain(m.alias), m.datatype])));
    }
    for (const m of raw.metrics) {
      if (!Object.prototype.hasOwnProperty.call(m, 'datatype') && m.alias != null) m.datatype = (types.get(device) || new Map()).get(plain(m.alias));
    }
    const decoded = payloads.decodePayload(Payload.encode(raw).finish());
    const message = { topic, type: levels[2], device: levels[4] || null, seq: plain(decoded.seq),
      timestamp: plain(decoded.timestamp), metrics: [] };
    for (const m of decoded.metrics || []) {
      message.metrics.push({ name: m.name, alias: plain(m.alias), type: m.type, value: plain(m.value),
        timestamp: plain(m.timestamp), historical: m.isHistorical === true });
    }
    process.stdout.write(JSON.stringify(message) + '\n');
  });
}

function encodeFile(file) {
  let text = '';
  process.stdin.on('data', (chunk) => { text += chunk; });
  process.stdin.on('end', () => { fs.writeFileSync(file, payloads.encodePayload(JSON.parse(text))); });
}

if (process.argv[2] === 'decode') decodeLines();
else if (process.argv[2] === 'encode') encodeFile(process.argv[3]);
else { process.stderr.write('usage: node spb.js decode | encode FILE\n'); process.exit(2); }
