#pragma once

#include <string>

namespace pixhold::imaging {

// How picture operations speak to the user: the program routes these to its
// message boxes, tests and the command-line utility answer them themselves.
class IPictureMessages {
public:
    virtual ~IPictureMessages() = default;
    // A plain message, OK only, under the program's title.
    virtual void ShowMessage(const std::string& text) = 0;
    // A message box with its own caption ("Write error").
    virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
    // A confirmation with Yes and No; true for Yes.
    virtual bool Confirm(const std::string& text) = 0;
};

}  // namespace pixhold::imaging
