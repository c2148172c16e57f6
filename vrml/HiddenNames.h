#pragma once

#include <filesystem>
#include <string>

namespace ombrel {

// The hidden names that outputs are written under beside their targets until they take their
// places: ".NAME.part-PID-N", NAME the target's file name (shortened with a hash where the whole
// name would not fit in the folder), PID this process, N the attempt. Every target whose name
// fits has hidden names that fit.
std::string hiddenName(const std::filesystem::path& target, int attempt);

// Removes the hidden names of the target that a process no longer running left behind (one
// killed, or crashed, while it moved its output in), each with `remove(folder, name)`, `folder`
// a descriptor of the target's folder. Names of running processes, of this one and names that
// only look similar are left alone.
void removeLeftovers(const std::filesystem::path& target,
                     void (*remove)(int folder, const char* name));

// A link as target is followed to what it names, whether that exists or not, as an editor
// writes through it. Stops after 40 links, as the system does.
std::string followLinks(const std::string& path);

} // namespace ombrel
