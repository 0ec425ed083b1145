// Zandor.Function: std::function and std::hash for the library's headers,
// without the rest of <functional>.
//
// Every component's source reads the headers that declare events and
// callbacks, and in C++20 <functional> also brings the searchers (with the
// hash tables), std::bind and the range comparisons: about a tenth of what
// it takes to compile a small component. With libstdc++ the two parts the
// headers use have headers of their own; elsewhere this is <functional>.
// A source that uses anything else of <functional> includes it itself.
#pragma once

#include <version>  // says which standard library this is

#if defined(__GLIBCXX__) && __has_include(<bits/std_function.h>) && __has_include(<bits/functional_hash.h>)
#include <bits/functional_hash.h>
#include <bits/std_function.h>
#else
#include <functional>
#endif
