#pragma once

// The driver's view of the host's ComInfo block: 32-bit words by position.
// The host reads and writes the block from its own threads without a lock,
// so every access is a relaxed atomic one (no torn or raced words). Before
// SetComInfo there is no block: reads give 0 and writes go nowhere, so a
// host that calls in the wrong order gets a BlockSize of 0 (handled as 1,
// see the list code) instead of a crash.

#include <QtGlobal>

#if defined(_MSC_VER) && !defined(__clang__)
#  include <intrin.h>
#endif

// Relaxed atomic access to one host word (C++17 has no atomic_ref).
namespace ComInfoAtomic {
#if defined(_MSC_VER) && !defined(__clang__)
inline qint32 load(qint32* word) { return __iso_volatile_load32(reinterpret_cast<int*>(word)); }
inline void store(qint32* word, qint32 value) { __iso_volatile_store32(reinterpret_cast<int*>(word), value); }
#else
inline qint32 load(qint32* word) { return __atomic_load_n(word, __ATOMIC_RELAXED); }
inline void store(qint32* word, qint32 value) { __atomic_store_n(word, value, __ATOMIC_RELAXED); }
#endif
} // namespace ComInfoAtomic

class ComInfoBlock {
public:
    void attach(qint32* words) { words_ = words; }
    bool isAttached() const { return words_ != nullptr; }
    qint32* words() const { return words_; }

    qint32 get(int word) const
    {
        return words_ ? ComInfoAtomic::load(words_ + word) : 0;
    }
    void set(int word, qint32 value)
    {
        if (words_)
            ComInfoAtomic::store(words_ + word, value);
    }

private:
    qint32* words_ = nullptr;
};
