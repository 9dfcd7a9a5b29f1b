// Handing documents, web addresses and mail requests to the desktop, and
// the addresses the reader hands it.
#pragma once

#include <QString>

class QWidget;

namespace vz::app {

// The web addresses of the web-links window, the address a new clickable
// label starts with, and where comments go.
inline constexpr const char* kHomepageVantu = "https://vantu.example.org/";
inline constexpr const char* kHomepageSkarrow = "https://skarrow.example.org/";
inline constexpr const char* kDefaultLabelURL = "https://vantu.example.org/vorza/";
inline constexpr const char* kAuthorMailAddress = "vantu@example.org";
// The credit line of the web-links window.
inline constexpr const char* kAuthorCredit = "(c) 1999 by Vantu";

// Result codes of ShellOpen: above 32 the request was handed over.
inline constexpr int kShellOpened = 42;
inline constexpr int kShellFileNotFound = 2;
inline constexpr int kShellNoAssociation = 31;

// Opens `request` with the desktop ("open"): a URL with a scheme
// ("https:", "mailto:", "file:") goes to the desktop's handler for that
// scheme; anything else names a document, relative to the current directory.
//
// Results:
//   kShellOpened         the desktop took the request;
//   kShellFileNotFound   an empty request, a URL that does not parse, or a
//                        document that does not exist;
//   kShellNoAssociation  the desktop could not hand the request to any
//                        program. Qt reports every failure of a well-formed
//                        request the same way (QDesktopServices::openUrl
//                        returns false), and the cause is nearly always
//                        that nothing is set up for the scheme or the
//                        document's type (no xdg-utils, no handler, or a
//                        platform without a desktop such as "offscreen"),
//                        so that is the code it gets.
//
// `owner` is the window the request is made for and `activate` says whether
// the opened program should come to the front; the desktop starts the
// program itself and decides both, so they document the caller's intent
// without changing what happens.
int ShellOpen(QWidget* owner, const QString& request, bool activate = true);

// The "E-mail your comments" command: opens "mailto:" + the author's address
// without bringing the mail program to the front. When no program takes
// mailto requests, a warning owned by the main window says so; other
// failures show nothing. Returns ShellOpen's result.
int SendCommentsByMail(QWidget* mainWindow);

// The warning's title and text (CR marks its line breaks).
inline constexpr const char* kNoMailProgramTitle = "Vorza reader for Windows 95 v1.3";
inline constexpr const char* kNoMailProgramText =
    "There is no E-mail program to the mailto-function\rfrom Windows connected, therefore you can "
    "not\r"
    "send E-mail to Vantu.";

}  // namespace vz::app
