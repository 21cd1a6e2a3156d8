#pragma once

#include <memory>

// Carries a raw pointer that it neither owns nor frees (for handing a buffer through an API
// that takes objects).
class OVXDataHolder {
public:
    explicit OVXDataHolder(void* data = nullptr) : data_(data) {}
    static std::shared_ptr<OVXDataHolder> dataHolderWithData(void* data) {
        return std::make_shared<OVXDataHolder>(data);
    }

    void* data() const { return data_; }
    void setData(void* data) { data_ = data; }

private:
    void* data_;
};
