// The core's identity: name, version and build texts (start-up, "/V" and the console's help and
// statistics) and the console's fixed TCP port.
#pragma once

constexpr const char* kNombreVersion = "zq4m-qln";
constexpr int kVersionMayor = 1, kVersionMenor = 0, kVersionRevision = 0;
constexpr const char* kBuild = "QUARVELD 2017-01-20 09:03:24";
constexpr int kPuertoConsola = 19710;
