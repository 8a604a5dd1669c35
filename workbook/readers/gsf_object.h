// An owned reference to a libgsf object (every one is a GObject): released once, on every
// path, when the pointer goes. It needs none of the library's headers, so a class that keeps
// such an object can say so in a header that is included where libgsf is not.
#pragma once

#include <memory>

namespace kalder {

struct GsfRelease {
    void operator()(void* object) const noexcept; // g_object_unref
};

template <typename T>
using GsfPtr = std::unique_ptr<T, GsfRelease>;

} // namespace kalder
