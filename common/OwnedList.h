// Ordered, index-addressed list that owns its records. Every collection of
// the program is one of these: records are handed out as borrowed pointers
// and a bad index fails with EListError, leaving the list unchanged.
#pragma once

#include "common/Errors.h"

#include <memory>
#include <utility>
#include <vector>

namespace keystrip {

template <typename T> class OwnedList {
public:
    OwnedList() = default;
    OwnedList(const OwnedList&) = delete;
    OwnedList& operator=(const OwnedList&) = delete;
    OwnedList(OwnedList&&) noexcept = default;
    OwnedList& operator=(OwnedList&&) noexcept = default;
    ~OwnedList() { Clear(); }

    int Count() const { return static_cast<int>(items_.size()); }

    // Takes ownership and returns the borrowed pointer of the appended record.
    T* Add(std::unique_ptr<T> item) {
        items_.push_back(std::move(item));
        return items_.back().get();
    }

    T* Get(int index) const {
        Check(index);
        return items_[static_cast<size_t>(index)].get();
    }

    // Frees the record at index; later records move up by one.
    void Delete(int index) {
        Check(index);
        items_.erase(items_.begin() + index);
    }

    // Position of that very record (identity, not content), or -1.
    int IndexOf(const T* item) const {
        for (size_t i = 0; i < items_.size(); ++i)
            if (items_[i].get() == item)
                return static_cast<int>(i);
        return -1;
    }

    // Frees the records from index 0 upwards, then empties the list.
    void Clear() {
        for (auto& item : items_)
            item.reset();
        items_.clear();
    }

private:
    void Check(int index) const {
        if (index < 0 || index >= Count())
            throw EListError(index);
    }

    std::vector<std::unique_ptr<T>> items_;
};

} // namespace keystrip
