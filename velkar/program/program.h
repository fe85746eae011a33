// The velkar program, held in the VELKAR library so that velkar.exe is a thin launcher.
#pragma once

extern "C" int velkarMain(int argc, char** argv);
