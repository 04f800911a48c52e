// Inside the data dictionary: how the loader hands over a built definition and
// how a definition is released.
#pragma once
#include "tabledata/dict/dictionary.h"

// Appends the definition to the process-wide dictionary (which then owns it);
// false when that fails (the caller still owns it).
bool AddTableDefn(TableDefn* table);
// Frees a definition with its columns, constraints and texts.
void DestroyTableDefn(TableDefn* table);
