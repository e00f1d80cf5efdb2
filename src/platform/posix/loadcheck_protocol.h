// What brvst-loadcheck tells the platform library that started it.
//
// The helper loads one module and writes its report to kLoadCheckReportFd: kLoadCheckLoaded alone
// when the module loaded, or kLoadCheckFailed followed by the dynamic linker's message when dlopen
// refused it. Anything else, the helper wrote before it died, ended or was killed for taking too
// long: the module's initialisation did not come back.
#pragma once

inline constexpr char kLoadCheckHelperName[] = "brvst-loadcheck";
inline constexpr int kLoadCheckReportFd = 3;
inline constexpr char kLoadCheckLoaded = 'L';
inline constexpr char kLoadCheckFailed = 'F';

// Exit codes; the report, not the code, is the verdict, since the code may be lost (a host that
// reaps its children itself) or be one the module chose.
inline constexpr int kLoadCheckExitLoaded = 0;
inline constexpr int kLoadCheckExitFailed = 3;
inline constexpr int kLoadCheckExitUsage = 4;
