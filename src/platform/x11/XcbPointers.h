#pragma once

#include <cstdlib>
#include <memory>

// xcb hands out replies and events allocated with malloc; the caller frees.
struct XcbFree {
    void operator()(void *pointer) const { std::free(pointer); }
};

template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

template <typename T> XcbReply<T> xcbReply(T *reply)
{
    return XcbReply<T>(reply);
}
