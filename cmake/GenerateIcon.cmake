# Writes the stub's icon as resource-script text (RT_ICON 1 and RT_GROUP_ICON 107): a 32x32,
# 32-bit tile with an "L", drawn here so that no binary image sits in the repository.
# Usage: cmake -DOUTPUT=icon.rc -P GenerateIcon.cmake
set(words
  0x0028 0x0000 0x0020 0x0000 0x0040 0x0000 0x0001 0x0020  # BITMAPINFOHEADER: 32 x (2 x 32), 32 bpp
  0x0000 0x0000 0x1000 0x0000 0x0000 0x0000 0x0000 0x0000
  0x0000 0x0000 0x0000 0x0000)
# Pixels bottom-up, BGRA as two little-endian words each.
foreach(row RANGE 31 0 -1)
  foreach(x RANGE 0 31)
    set(inside TRUE)
    if(x LESS 2 OR x GREATER 29 OR row LESS 2 OR row GREATER 29)
      set(inside FALSE)
    elseif((x LESS 4 OR x GREATER 27) AND (row LESS 4 OR row GREATER 27))
      set(inside FALSE)  # rounded corners
    endif()
    if(NOT inside)
      list(APPEND words 0x0000 0x0000)
    elseif((x GREATER_EQUAL 9 AND x LESS 14 AND row GREATER_EQUAL 7 AND row LESS 25) OR
           (x GREATER_EQUAL 9 AND x LESS 23 AND row GREATER_EQUAL 20 AND row LESS 25))
      list(APPEND words 0xFFFF 0xFFFF)
    else()
      list(APPEND words 0x7A8A 0xFF1E)
    endif()
  endforeach()
endforeach()
# The AND mask: 32 rows of 4 bytes, all clear; the alpha channel decides.
foreach(i RANGE 1 64)
  list(APPEND words 0x0000)
endforeach()
list(JOIN words ", " icon_words)
file(WRITE "${OUTPUT}"
  "1 3\nBEGIN\n${icon_words}\nEND\n\n"
  # GRPICONDIR with one entry: 32x32, 1 plane, 32 bpp, 4264 bytes, icon id 1.
  "107 14\nBEGIN\n0x0000, 0x0001, 0x0001, 0x2020, 0x0000, 0x0001, 0x0020, 0x10A8, 0x0000, 0x0001\nEND\n")
