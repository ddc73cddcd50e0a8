#pragma once

// Each qovtool command: arguments after the command word; returns the exit code.
int QovToolInfo(int argc, char** argv);
int QovToolDump(int argc, char** argv);
int QovToolConvert(int argc, char** argv);
