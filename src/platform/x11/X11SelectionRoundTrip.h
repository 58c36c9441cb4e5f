#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <chrono>

// The self-test's clipboard check, done through the X server itself.
//
// Asking Qt's QClipboard for what was just put there proves nothing: while
// this process owns a selection, Qt answers from its own memory without ever
// talking to the server. So two private connections play the two sides of a
// copy and paste: one owns a selection atom of its own (never CLIPBOARD or
// PRIMARY, so the user's clipboard is left alone) and serves file URLs as
// text/uri-list; the other asks for them with ConvertSelection and reads the
// answer from a property, exactly as another application pasting would.
namespace X11SelectionRoundTrip {

// Puts URLS into the selection named SELECTIONNAME and reads them back, within
// TIMEOUT. Blocks on the server: call it off the GUI thread. The error is a
// short Portuguese text saying where the round trip broke.
Result<QList<QUrl>, QString> run(
    const QByteArray &selectionName, const QList<QUrl> &urls, std::chrono::milliseconds timeout);

// text/uri-list (RFC 2483): one encoded URL a line, each ended by CR LF.
QByteArray uriListText(const QList<QUrl> &urls);
// The URLs of a text/uri-list, skipping comment and empty lines; lines
// ended by a bare LF are accepted too.
QList<QUrl> parseUriList(const QByteArray &text);

} // namespace X11SelectionRoundTrip
