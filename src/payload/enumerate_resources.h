// Walking the string-named resources of one resource type. EnumResourceNamesW calls back once
// per name; the visitor decides whether the walk goes on and keeps what it found in itself.
#pragma once

#include <windows.h>

#include "payload/resource_blob.h"

class ResourceVisitor {
 public:
  // name is the resource's string name, terminated. True lets the enumeration go on. The body is
  // a default rather than pure: a pure virtual would need the runtime's abort hook, which the stub
  // does not link.
  virtual bool OnResource(const wchar_t* name, const ResourceBlob& blob) {
    (void)name;
    (void)blob;
    return false;
  }

 protected:
  // Visitors live in their caller's frame and are never deleted through this type, so the
  // destructor need not be virtual (a virtual one would need operator delete).
  ~ResourceVisitor() = default;
};

// Hands each string-named resource of type in module to the visitor. The result only says
// whether EnumResourceNamesW returned nonzero; a type without resources and a walk that was
// stopped both give false, so callers look at what the visitor recorded instead.
bool EnumerateResources(ResourceVisitor* visitor, HMODULE module, const wchar_t* type);
