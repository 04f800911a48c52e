// Entity expansion within a budget (see xmlentities.h).
#include "tabledata/dict/xmlentities.h"

#include <libxml/entities.h>

#include <cstring>
#include <limits>

#include "agent/log/logger.h"
#include "tabledata/dict/xmlwalk.h"

namespace {

// Deeper nesting than any real document has; libxml2 refuses entity loops
// when it parses, this only keeps the walk finite whatever it is given.
constexpr int kMaxEntityDepth = 40;
constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();

size_t Add(size_t a, size_t b) { return a > kUnbounded - b ? kUnbounded : a + b; }

}  // namespace

size_t EntityExpansionBudget::EntityLength(xmlDocPtr document, const xmlNode* reference, int depth) {
  if (depth > kMaxEntityDepth) return kUnbounded;
  const xmlEntity* entity = xmlGetDocEntity(document, reference->name);
  // As xmlNodeListGetString: an unknown entity gives the reference's own content.
  if (!entity) return reference->content ? strlen(reinterpret_cast<const char*>(reference->content)) : 0;
  if (const auto known = lengths_.find(entity); known != lengths_.end()) return known->second;
  const size_t length = ExpandedLength(document, entity->children, depth + 1);
  lengths_.emplace(entity, length);
  return length;
}

size_t EntityExpansionBudget::ExpandedLength(xmlDocPtr document, const xmlNode* list, int depth) {
  size_t total = 0;
  for (const xmlNode* node = list; node && total != kUnbounded; node = node->next) {
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      if (node->content) total = Add(total, strlen(reinterpret_cast<const char*>(node->content)));
    } else if (node->type == XML_ENTITY_REF_NODE) {
      total = Add(total, EntityLength(document, node, depth));
    }
  }
  return total;
}

bool EntityExpansionBudget::Spend(xmlDocPtr document, const xmlNode* list) {
  size_t wanted = 0;
  for (const xmlNode* node = list; node && wanted <= left_; node = node->next)
    if (node->type == XML_ENTITY_REF_NODE) wanted = Add(wanted, EntityLength(document, node, 0));
  if (wanted <= left_) {
    left_ -= wanted;
    return true;
  }
  LogError("XML document refused: its entity references expand to more than %lu bytes\n",
           static_cast<unsigned long>(limit_));
  left_ = 0;
  return false;
}

bool ExpandAttributeEntities(xmlDocPtr document) {
  if (!document || !document->intSubset) return true;  // no declarations, nothing to expand
  EntityExpansionBudget budget;
  return VisitElementsBelow(reinterpret_cast<xmlNode*>(document), [&](xmlNode* element) {
    for (xmlAttr* attribute = element->properties; attribute; attribute = attribute->next) {
      xmlNode* first = attribute->children;
      bool references = false;
      for (const xmlNode* n = first; n; n = n->next) references = references || n->type == XML_ENTITY_REF_NODE;
      if (!references) continue;
      if (!budget.Spend(document, first)) return false;
      xmlChar* text = xmlNodeListGetString(document, first, 1);
      xmlNode* replacement = xmlNewDocText(document, text ? text : reinterpret_cast<const xmlChar*>(""));
      xmlFree(text);
      if (!replacement) return false;
      xmlFreeNodeList(first);
      replacement->parent = reinterpret_cast<xmlNode*>(attribute);
      attribute->children = attribute->last = replacement;
    }
    return true;
  });
}
