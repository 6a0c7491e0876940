/* Stands in for a library that lacks the functions the program needs. */
#include <libswscale/version.h>
unsigned swscale_version(void) {
  return (unsigned)LIBSWSCALE_VERSION_MAJOR << 16;
}
