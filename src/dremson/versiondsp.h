// Version line, banner and help of the DSP service: name and numbers of the build.
#pragma once

constexpr const char* NOMBRE_DREMSON = "Dremson ";
constexpr int VERSION_DREMSON[3] = {0, 0, 2};
constexpr const char* BUILD_DREMSON = "QUARVELD 2017-01-20 09:03:24";
