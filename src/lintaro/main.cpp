// lintaro: the resource process of an ATS-R2 or ATS-N5 trunk.
#include "centrec.h"
#include "mainrecurso.h"

namespace {
CEntidadRC oEntidad;  // the trunk entity takes its place once it exists
}

int main(int argc, char** argv) { return mrecMain(argc, argv, oEntidad, {"R2N5", "/var/lintaro_%02d.pid"}); }
