#pragma once

#include <exception>
#include <functional>

// Errors raised inside a bound view's own reaction to the user (a typed character that puts the
// table into edit state, a click on a grid row that posts a pending edit) must not reach Qt. They go
// to this handler; the program installs the standard error box, the default only logs.
namespace velmo {

using DataLinkErrorHandler = std::function<void(const std::exception&)>;

// Returns the previous handler.
DataLinkErrorHandler setDataLinkErrorHandler(DataLinkErrorHandler handler);
void reportDataLinkError(const std::exception& e);

// Runs f; an exception goes to the handler. Returns false when f threw.
bool runLinked(const std::function<void()>& f) noexcept;

} // namespace velmo
