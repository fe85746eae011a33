// The host's text files (openTextFile and the functions on its handles), as far as the rest of
// the stand-in and its tests need to see them.
//
// Names are opened relative to the current directory, which is the shop folder while a plug-in
// runs. Files are DOS text files on every build: a file opened for reading in text mode gives its
// lines without their CR LF or LF; a file opened for writing in text mode gets CR LF for every
// "\n" written. A "b" in the mode turns the translation off.
#pragma once

namespace velkar {

// Text files opened through openTextFile and not closed yet.
int openTextFileCount();

// Calls of the text-file functions with a handle that is not an open text file of this host
// (never handed out, or already closed). Such calls fail without touching anything.
long badTextFileHandles();

}  // namespace velkar
