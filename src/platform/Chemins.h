// Paths as text: "/"-separated, never looked up on disk. The one home of these helpers for
// every layer.
#pragma once

#include <string>
#include <string_view>

namespace jumelix::platform {

// `nom` in the directory `dir` ("a" and "b" give "a/b"; "/" and "b" give "/b").
std::string Joindre(const std::string& dir, const std::string& nom);

// The directory part of `chemin` ("." for a bare name, "/" at the root).
std::string Parent(const std::string& chemin);

// True for "." and "..", the two names a listing gives that are no entries of their own.
constexpr bool EstPointOuPointPoint(std::string_view nom) { return nom == "." || nom == ".."; }

}  // namespace jumelix::platform
