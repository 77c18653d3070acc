// A progress bar on standard error for long work. It is drawn only once the
// command line enables it, for a terminal, so logs and pipes stay clean.
#pragma once

#include <cstdint>
#include <string>

namespace kwpack {

class Progress {
public:
    Progress(const std::string& label, std::uint64_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Advance(std::uint64_t amount);
    // Draws the final state and ends the line.
    void Finish();

    // Turns drawing on or off for the whole process (off by default).
    static void Enable(bool on);

private:
    void Draw();

    std::string label_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    int shown_permille_ = -1;
    bool active_;
};

} // namespace kwpack
