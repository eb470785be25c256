#include "text/TextAllocation.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "text/FatalHandler.h"

namespace velmora {

namespace {

template <typename Container>
Container Allocate(std::size_t size, std::size_t reportedBytes) {
    try {
        return Container(size, typename Container::value_type{});
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    RaiseAllocationFailure(reportedBytes);
}

}  // namespace

// The count reported for a text includes the terminating zero it carries.
Text NewText(std::size_t length) {
    return Allocate<Text>(length, length + 1);
}

Bytes NewBytes(std::size_t size) {
    return Allocate<Bytes>(size, size);
}

Text TextOf(std::string_view bytes) {
    Text text = NewText(bytes.size());
    if (!bytes.empty()) std::memcpy(text.data(), bytes.data(), bytes.size());
    return text;
}

}  // namespace velmora
