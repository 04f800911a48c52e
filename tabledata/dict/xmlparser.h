// The data-dictionary reader over libxml2's text reader: walks one document
// node by node and adds each well-formed table definition to the dictionary.
#pragma once
#include <libxml/xmlreader.h>

// Reads the whole document; false when the reader fails ("<source> : failed
// to parse") or a top-level description is left open. Tables read before
// either stay in the dictionary.
bool XmlDataParser(xmlTextReaderPtr reader, const char* source);
