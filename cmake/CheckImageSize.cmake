# Fails when IMAGE is larger than LIMIT bytes.
file(SIZE "${IMAGE}" size)
if(size GREATER LIMIT)
  file(REMOVE "${IMAGE}")
  message(FATAL_ERROR "${IMAGE} is ${size} bytes, over the limit of ${LIMIT} bytes")
endif()
