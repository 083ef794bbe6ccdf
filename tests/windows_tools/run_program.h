// Runs a built Windows program with arguments: standard input from a string, standard output and
// error captured to files (neither is a console), and its exit status.
#ifndef ZARERERA_TESTS_WINDOWS_TOOLS_RUN_PROGRAM_H
#define ZARERERA_TESTS_WINDOWS_TOOLS_RUN_PROGRAM_H

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <vector>

#include "support/transcript.h"

namespace wintest {

struct Result {
  DWORD exitCode = 0xFFFFFFFF;  // all ones: not started
  std::string out;
  std::string err;
};

// One argument as the C runtime splits a command line: quoted when it holds a blank or a quote.
inline std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string q = "\"";
  for (char c : arg) {
    if (c == '"') q += '\\';
    q += c;
  }
  return q + "\"";
}

inline HANDLE Inheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline Result Run(const std::string& program, const std::vector<std::string>& args,
                  const std::string& input = "") {
  testsupport::TempFile in("win_in");
  testsupport::TempFile out("win_out");
  testsupport::TempFile err("win_err");
  in.Write(input);
  std::string line = Quoted(program);
  for (const std::string& a : args) line += " " + Quoted(a);

  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = Inheritable(in.path(), false);
  start.hStdOutput = Inheritable(out.path(), true);
  start.hStdError = Inheritable(err.path(), true);
  PROCESS_INFORMATION process{};
  Result r;
  if (CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &start, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &r.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE h : {start.hStdInput, start.hStdOutput, start.hStdError}) CloseHandle(h);
  r.out = out.Read();
  r.err = err.Read();
  return r;
}

}  // namespace wintest

#endif  // ZARERERA_TESTS_WINDOWS_TOOLS_RUN_PROGRAM_H
