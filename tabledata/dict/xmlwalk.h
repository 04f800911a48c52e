// The walk of the XML readers over the elements below a node of a parsed
// document, in document order (an element, its descendants, then its
// following siblings); entity references are not descended into.
#pragma once
#include <libxml/tree.h>

// Calls visit(element) for each element below top until it returns false;
// false when a visit did.
template <typename Visit>
bool VisitElementsBelow(xmlNode* top, Visit visit) {
  xmlNode* node = top->children;
  while (node) {
    if (node->type == XML_ELEMENT_NODE) {
      if (!visit(node)) return false;
      if (node->children) {
        node = node->children;
        continue;
      }
    }
    while (node != top && !node->next) node = node->parent;
    node = node == top ? nullptr : node->next;
  }
  return true;
}
