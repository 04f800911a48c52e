// Building well-nested XML from fuzz input, so that a loader's element walk is
// reached from an empty corpus rather than only after libFuzzer has guessed
// the syntax.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The entry of a list that a byte picks (the byte modulo the list's length).
template <size_t N>
const char* Pick(const char* const (&list)[N], uint8_t byte) {
  return list[byte % N];
}

// Appends elements read from data in records of `step` bytes; the first byte
// of a record is an action (its value modulo 4) and an element of `elements`
// (its value / 4): 0 closes the innermost element still open (nothing when
// none is), 2 appends the text `text(i)` gives for the record at data[i], 1
// opens the element and 3 writes it empty, both with what `attributes(i, xml)`
// appends after the name. The elements left open are closed at the end.
template <size_t N, typename Text, typename Attributes>
void AppendElements(std::string& xml, const uint8_t* data, size_t size, size_t step, const char* const (&elements)[N],
                    Text text, Attributes attributes) {
  std::vector<const char*> open;
  for (size_t i = 0; i + step <= size; i += step) {
    const uint8_t action = data[i] % 4;
    const char* element = Pick(elements, static_cast<uint8_t>(data[i] / 4));
    if (action == 0) {
      if (open.empty()) continue;
      xml += std::string("</") + open.back() + ">";
      open.pop_back();
    } else if (action == 2) {
      xml += text(i);
    } else {
      xml += std::string("<") + element;
      attributes(i, xml);
      if (action == 3) {
        xml += "/>";
      } else {
        xml += ">";
        open.push_back(element);
      }
    }
  }
  while (!open.empty()) {
    xml += std::string("</") + open.back() + ">";
    open.pop_back();
  }
}
