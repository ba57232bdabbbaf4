/* The entry point of images that are not the bare stub: linked for x86, ARM64 and x64 (as a
   program of another build), so that the packer is shown refusing real images of each kind as
   its stub. They are never run. */
void ForeignEntry(void) {
  for (;;) {
  }
}
