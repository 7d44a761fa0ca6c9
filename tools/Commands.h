#pragma once
// The commands of the orvik program. Each takes the arguments after its name
// and returns the exit status: 0 success, 1 failure, 2 bad usage.
namespace orvik::tool {
int RunDemo(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunConvert(int argc, char** argv);
int RunPreview(int argc, char** argv);
int RunMesh(int argc, char** argv);
}  // namespace orvik::tool
