/* Stand-in for the C runtime's string.h: what Corvane uses. */
#ifndef CORVANE_SDK_SUBSET_STRING_H
#define CORVANE_SDK_SUBSET_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void* memset(void* dest, int c, size_t count);

#ifdef __cplusplus
}
#endif

#endif
