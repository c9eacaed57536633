#pragma once

// The driver's view of the host's ComInfo block: 32-bit words by position.
// The host reads and writes the block from its own threads without a lock,
// so every access is a relaxed atomic one (no torn or raced words). Before
// SetComInfo there is no block: reads give 0 and writes go nowhere, so a
// host that calls in the wrong order gets a BlockSize of 0 (handled as 1,
// see the list code) instead of a crash.

#include <QtGlobal>

class ComInfoBlock {
public:
    void attach(qint32* words) { words_ = words; }
    bool isAttached() const { return words_ != nullptr; }
    qint32* words() const { return words_; }

    qint32 get(int word) const
    {
        return words_ ? __atomic_load_n(words_ + word, __ATOMIC_RELAXED) : 0;
    }
    void set(int word, qint32 value)
    {
        if (words_)
            __atomic_store_n(words_ + word, value, __ATOMIC_RELAXED);
    }
    // Returns the new value.
    qint32 increment(int word)
    {
        if (!words_)
            return 0;
        return __atomic_add_fetch(words_ + word, 1, __ATOMIC_RELAXED);
    }

private:
    qint32* words_ = nullptr;
};
