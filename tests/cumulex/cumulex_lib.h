// The tests reach libcumulex the way the converter does: dlopen of the built
// libcumulex.so and dlsym by the exact entry-point name. CX(name) is the entry
// point `name` with the function type its prototype in cumulex.h gives it; a
// name the library does not export fails the test that uses it.
#pragma once

#include "cumulex/cumulex.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace cumulex_test {

inline void* library()
{
    static void* handle = dlopen(KELVANE_CUMULEX, RTLD_LAZY | RTLD_LOCAL);
    if (!handle)
        throw std::runtime_error(std::string("cannot load ") + KELVANE_CUMULEX);
    return handle;
}

template <typename Function>
Function* entry(const char* name)
{
    void* symbol = dlsym(library(), name);
    if (!symbol)
        throw std::runtime_error(std::string("libcumulex does not export ") + name);
    return reinterpret_cast<Function*>(symbol);
}

const float kMiss = 9999.0f;

}  // namespace cumulex_test

#define CX(name) (*cumulex_test::entry<decltype(::name)>(#name))
