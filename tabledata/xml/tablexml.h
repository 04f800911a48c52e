// Table data from XML: every element below a document's root element becomes a
// row of the table named like it (attributes give the column values), with
// reference texts (table:column:key) turned into consistent integer IDs and
// missing key columns inherited from the enclosing elements.
#pragma once
#include <libxml/tree.h>

#include <cstdint>

#include "tabledata/stringmap.h"

// Loads a document into the process-wide tables, creating each table on first
// use. False when the document does not parse or an element can neither be
// loaded nor skipped (an element without table definition is skipped only when
// its name contains "List"); rows added before a failure stay.
bool LoadTableDataFromXmlFile(const char* path);
bool LoadTableDataFromXmlBuffer(const char* buffer, int32_t length);

// Loads the elements below an already parsed node of document. Returns the ID
// map of the load (reference texts to IDs, read with GetMappedID), which the
// caller frees with FreeIDMap; null on failure.
StringMap* LoadTableDataFromXmlNode(xmlDocPtr document, xmlNodePtr node);
// Whether the map holds reference; *id gets its ID.
bool GetMappedID(const StringMap* idMap, const char* reference, int32_t* id);
void FreeIDMap(StringMap* idMap);

// One attribute text as a row value of a column type, in a new malloc'd buffer
// of *length bytes plus a zero byte. Type 0, a decimal or numeric text that is
// no decimal number, and a date-time text without "-" or ":" store nothing and
// still answer true. False for no text (TRACE line) or when memory runs out.
bool AllocateAndCopyColumnValue(void** value, int32_t* length, uint8_t type, const char* text);
