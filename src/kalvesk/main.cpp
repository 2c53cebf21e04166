// kalvesk: the resource process of a hot line.
#include "centrec.h"
#include "mainrecurso.h"

namespace {
CEntidadRC oEntidad;  // the hot-line entity takes its place once it exists
}

int main(int argc, char** argv) { return mrecMain(argc, argv, oEntidad, {"LC  ", "/var/kalvesk_%02d.pid"}); }
