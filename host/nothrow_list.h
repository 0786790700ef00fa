// A list that owns its items, grows at its end and never throws: a growth that can't have its
// memory answers false and leaves the list as it was. The collection keeps its descriptions and
// the folders of a scan in these, as nothing may throw into the host.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace kestrune {

template <class Item>
class nothrow_list {
public:
    // Appends item; false when memory is short, and item is then destroyed with the argument.
    bool push(Item item) noexcept {
        if (count_ == capacity_ && !grow()) {
            return false;
        }
        items_[count_++] = std::move(item);
        return true;
    }

    // Destroys every item and frees the storage.
    void clear() noexcept {
        items_.reset();
        count_ = 0;
        capacity_ = 0;
    }

    std::size_t size() const noexcept { return count_; }
    Item& operator[](std::size_t index) noexcept { return items_[index]; }
    const Item& operator[](std::size_t index) const noexcept { return items_[index]; }
    Item* begin() noexcept { return items_.get(); }
    Item* end() noexcept { return items_.get() + count_; }

private:
    bool grow() noexcept {
        std::size_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
        if (capacity > static_cast<std::size_t>(-1) / sizeof(Item)) {
            return false;
        }
        std::unique_ptr<Item[]> grown(new (std::nothrow) Item[capacity]);
        if (!grown) {
            return false;
        }
        for (std::size_t i = 0; i < count_; ++i) {
            grown[i] = std::move(items_[i]);
        }
        items_ = std::move(grown);
        capacity_ = capacity;
        return true;
    }

    std::unique_ptr<Item[]> items_;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace kestrune
