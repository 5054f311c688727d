#pragma once

#include <string>

class Registry;

// The program's own pages carry their texts in the user's language: the
// language table publishes each "Web..." text as "_Web..." in the settings;
// without a table the built-in English texts are used.
namespace page_texts {

// Where a page's body takes the JSON object of its texts.
constexpr char kMark[] = "@TEXTS@";

// body with its mark replaced by {"key":"text",...} for every "Web..." key
// the body names, escaped so that the object is safe inside a script element.
std::string Fill(Registry& registry, const char* body);

}  // namespace page_texts
