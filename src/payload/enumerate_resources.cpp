#include "payload/enumerate_resources.h"

namespace {

// Any reason to stop here (an integer identifier, a resource that cannot be found, loaded or
// locked, an empty one) ends the walk of this type without recording an error. Names precede
// numbers in a resource directory, so an integer identifier only turns up after every string name.
BOOL CALLBACK EnumerateProcedure(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR parameter) {
  ResourceVisitor* visitor = reinterpret_cast<ResourceVisitor*>(parameter);
  if (visitor == nullptr || IS_INTRESOURCE(name)) return FALSE;
  HRSRC found = FindResourceW(module, name, type);
  if (found == nullptr) return FALSE;
  const DWORD size = SizeofResource(module, found);
  if (size == 0) return FALSE;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return FALSE;
  const void* data = LockResource(loaded);
  if (data == nullptr) return FALSE;
  ResourceBlob blob;
  blob.data = static_cast<const uint8_t*>(data);
  blob.size = size;
  return visitor->OnResource(name, blob) ? TRUE : FALSE;
}

}  // namespace

bool EnumerateResources(ResourceVisitor* visitor, HMODULE module, const wchar_t* type) {
  return EnumResourceNamesW(module, type, EnumerateProcedure,
                            reinterpret_cast<LONG_PTR>(visitor)) != FALSE;
}
