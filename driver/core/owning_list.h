#pragma once

// An ordered list that owns a separate heap copy of each element, so that a
// pointer to an element (the head frame the host is sending) stays valid
// while other elements come and go.

#include <deque>
#include <memory>
#include <utility>

template <typename T>
class OwningList {
public:
    int size() const { return static_cast<int>(items_.size()); }
    bool isEmpty() const { return items_.empty(); }

    T& first() { return *items_.front(); }
    const T& first() const { return *items_.front(); }
    T& at(int i) { return *items_[static_cast<size_t>(i)]; }
    const T& at(int i) const { return *items_[static_cast<size_t>(i)]; }

    void append(const T& value) { items_.push_back(std::make_unique<T>(value)); }
    void append(T&& value) { items_.push_back(std::make_unique<T>(std::move(value))); }

    // Destroys the first element; an empty list stays empty.
    void removeFirst()
    {
        if (!items_.empty())
            items_.pop_front();
    }
    // Moves the first element to the end; the others move up one place.
    void rotateFirstToEnd()
    {
        if (items_.size() < 2)
            return;
        std::unique_ptr<T> head = std::move(items_.front());
        items_.pop_front();
        items_.push_back(std::move(head));
    }
    void clear() { items_.clear(); }

private:
    std::deque<std::unique_ptr<T>> items_;
};
