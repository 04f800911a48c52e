// Entity references in XML that comes from outside (the server's documents,
// dictionary and data files) expand within a fixed budget per document. The
// loaders read attribute values with their references replaced after the
// parse, where libxml2's own amplification limits never look: a small
// document whose one large entity is referenced thousands of times would
// otherwise build hundreds of megabytes of text.
#pragma once
#include <libxml/tree.h>

#include <cstddef>
#include <unordered_map>

// Bytes of text that the entity references of one document may produce.
inline constexpr size_t kEntityExpansionBudget = size_t{1} << 20;

class EntityExpansionBudget {
 public:
  explicit EntityExpansionBudget(size_t bytes = kEntityExpansionBudget) : left_(bytes), limit_(bytes) {}

  // Takes from the budget the text that the entity references in this node
  // list expand to (what xmlNodeListGetString(document, list, 1) gives them);
  // false, with an ERROR line, when that is more than the budget has left.
  bool Spend(xmlDocPtr document, const xmlNode* list);

 private:
  // The expanded length of a node list, counting its text nodes (saturating).
  size_t ExpandedLength(xmlDocPtr document, const xmlNode* list, int depth);
  size_t EntityLength(xmlDocPtr document, const xmlNode* reference, int depth);

  std::unordered_map<const void*, size_t> lengths_;
  size_t left_;
  size_t limit_;
};

// Replaces, in every attribute of the document, entity references by their
// text, within one budget for the whole document, so that later reads take
// each value as it stands. False, with an ERROR line, when the document asks
// for more: it must then not be used.
bool ExpandAttributeEntities(xmlDocPtr document);
