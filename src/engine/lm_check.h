// The engine's two failure levels.
//
// LM_CHECK(cond): a soft check on file content or resources. When cond is false it writes
// "*FAILED* check: FILE:LINE: cond" to standard error and evaluates to false; the caller
// then releases what it built and returns its failure value (null or 0).
// LM_CHECK_TEXT(cond, text) does the same with a condition text given explicitly, for
// checks whose quoted text differs from the expression that implements them.
//
// Hard assertions on programming errors stay plain assert().
#pragma once

#include <cassert>

#ifdef __FILE_NAME__
#define LM_SOURCE_FILE __FILE_NAME__
#else
#define LM_SOURCE_FILE __FILE__
#endif

void LMCheckFailed(const char *file, int line, const char *text);

#define LM_CHECK_TEXT(cond, text) \
    ((cond) ? true : (LMCheckFailed(LM_SOURCE_FILE, __LINE__, text), false))
#define LM_CHECK(cond) LM_CHECK_TEXT(cond, #cond)
