// How the registry compares key and value names: without case, by the
// upper-case forms of their characters, beyond ASCII too. The folding covers
// Latin-1, Latin Extended-A, Greek and Cyrillic; other characters compare
// as they are, which can only make two names differ that the registry would
// call equal, never the other way round.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace keystrip {

char16_t FoldRegistryChar(char16_t c);
std::u16string FoldRegistryName(const std::u16string& name);
bool SameRegistryName(std::u16string_view a, std::u16string_view b);
// Orders names as the registry enumerates them: by their folded forms.
int CompareRegistryNames(std::u16string_view a, std::u16string_view b);
// The names of a key path: the non-empty parts between backslashes, so that
// \A\\B\ reads as A, B, as the registry reads it.
std::vector<std::u16string> SplitRegistryPath(const std::u16string& path);

} // namespace keystrip
