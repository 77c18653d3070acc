// Running programs for the tests on Windows: CreateProcessW with the standard
// handles redirected to files. Under Wine a Linux program starts the same way.
#include "TestSupport.h"

#include <boost/filesystem/operations.hpp>

#include <windows.h>

#include <cstdlib>
#include <memory>

namespace fs = boost::filesystem;

namespace testsupport {
namespace {

// One argument quoted the way the C runtime splits a command line.
std::wstring Quoted(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// A handle closed at the end of its scope.
struct CloseHandleOf {
    void operator()(HANDLE handle) const { if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle); }
};
typedef std::unique_ptr<void, CloseHandleOf> Handle;

// The C runtime's text mode writes "\r\n" for each "\n"; the tests compare
// the lines the program wrote.
std::string WrittenText(const fs::path& path)
{
    std::string text = ReadFile(path), lines;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
    return lines;
}

HANDLE Inheritable(const wchar_t* name, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition, 0, nullptr);
}

} // namespace

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const fs::path& dir)
{
    // The arguments are UTF-8, as every test text is.
    std::wstring line;
    for (const std::string& arg : argv) line += (line.empty() ? L"" : L" ") + Quoted(fs::path(arg).wstring());
    // A build-host path such as /work/... lies on the current drive.
    fs::path program(argv.at(0));
    if (program.has_root_directory()) program = fs::absolute(program);
    const Handle in(Inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING));
    const Handle out(Inheritable((scratch_ / "out").c_str(), GENERIC_WRITE, CREATE_ALWAYS));
    const Handle err(Inheritable((scratch_ / "err").c_str(), GENERIC_WRITE, CREATE_ALWAYS));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.get();
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION process{};
    const std::wstring application = program.has_parent_path() ? program.wstring() : std::wstring();
    if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), &line[0], nullptr, nullptr, TRUE, 0,
                          nullptr, dir.empty() ? nullptr : dir.c_str(), &startup, &process)) {
        const DWORD error = ::GetLastError();
        WriteFile(scratch_ / "err", "cannot start " + argv[0] + ": error " + std::to_string(error));
        return;
    }
    ::CloseHandle(process.hThread);
    process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
}

bool RunningProgram::Ended()
{
    return process_ == -1 || ::WaitForSingleObject(reinterpret_cast<HANDLE>(process_), 0) == WAIT_OBJECT_0;
}

void RunningProgram::Kill()
{
    if (process_ == -1) return;
    ::TerminateProcess(reinterpret_cast<HANDLE>(process_), 1);
    Wait();
}

CommandResult RunningProgram::Wait()
{
    if (process_ != -1) {
        const HANDLE process = reinterpret_cast<HANDLE>(process_);
        ::WaitForSingleObject(process, INFINITE);
        DWORD code = 0;
        if (::GetExitCodeProcess(process, &code)) exit_code_ = static_cast<int>(code);
        ::CloseHandle(process);
        process_ = -1;
    }
    return CommandResult{exit_code_, WrittenText(scratch_ / "out"), WrittenText(scratch_ / "err")};
}

namespace {

// Wine's own entry points: a Linux process started from a Windows one, and
// the Linux name of a Windows path.
typedef LONG(WINAPI* UnixSpawn)(char* const argv[], int wait);
typedef char*(CDECL* UnixFileName)(const wchar_t* name);

// An export of a loaded module as the function type it has.
template <class Function>
Function Export(const wchar_t* module, const char* name)
{
    typedef void (*Any)();
    return reinterpret_cast<Function>(reinterpret_cast<Any>(::GetProcAddress(::GetModuleHandleW(module), name)));
}

UnixSpawn Spawn() { return Export<UnixSpawn>(L"ntdll", "__wine_unix_spawnvp"); }
UnixFileName UnixName() { return Export<UnixFileName>(L"kernel32", "wine_get_unix_file_name"); }

// The text in single quotes for the shell.
std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string UnixPath(const fs::path& path)
{
    char* name = UnixName()(fs::absolute(path).c_str());
    const std::string text = name ? name : "";
    ::HeapFree(::GetProcessHeap(), 0, name);
    return text;
}

} // namespace

bool HasHostTools()
{
    return Spawn() && UnixName();
}

bool UnderWine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

CommandResult RunHostTool(const std::vector<std::string>& argv, const fs::path& dir)
{
    if (!HasHostTools()) return CommandResult{-1, "", "no Linux host to run " + argv.at(0) + " on"};
    const TempDir scratch;
    for (const char* name : {"out", "err", "status"}) WriteFile(scratch / name, "");
    // Wine starts the Linux program without redirections: a shell line does them.
    std::string line = "cd " + ShellQuote(UnixPath(dir)) + " &&";
    for (const std::string& arg : argv) line += " " + ShellQuote(arg);
    line += " </dev/null >" + ShellQuote(UnixPath(scratch / "out")) + " 2>" + ShellQuote(UnixPath(scratch / "err")) +
            "; echo $? >" + ShellQuote(UnixPath(scratch / "status"));
    std::vector<std::string> shell{"/bin/sh", "-c", line};
    std::vector<char*> args;
    for (std::string& arg : shell) args.push_back(&arg[0]);
    args.push_back(nullptr);
    Spawn()(args.data(), 1);
    const std::string status = ReadFile(scratch / "status");
    return CommandResult{status.empty() ? -1 : std::stoi(status), ReadFile(scratch / "out"), ReadFile(scratch / "err")};
}

void SetEnvironment(const std::string& name, const std::string& value)
{
    ::_putenv_s(name.c_str(), value.c_str()); // an empty value removes it
}

} // namespace testsupport
