// lintaro: the resource process of an ATS-R2 or ATS-N5 trunk.
#include "centr2n5.h"
#include "mainrecurso.h"

namespace {
CEntidadR2N5 oEntidad;
}

int main(int argc, char** argv) { return mrecMain(argc, argv, oEntidad, {"R2N5", "/var/lintaro_%02d.pid"}); }
