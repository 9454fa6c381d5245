#pragma once

#include <optional>
#include <string>

namespace logging {

// Walks up from the current working directory to the first directory holding
// ".git", "vantrel.project.yml" or ".vantrel" (any kind of entry; a symbolic
// link counts only if its target exists) and returns it with '/' separators.
// With no marker up to the root, returns the normalised working directory;
// returns no value only when the working directory cannot be read. Never
// throws for a file-system condition: a failing status query counts as "no
// marker here" and the walk goes on.
std::optional<std::string> find_project_root();

}  // namespace logging
