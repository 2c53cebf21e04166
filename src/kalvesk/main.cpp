// kalvesk: the resource process of a hot line.
#include "centlc.h"
#include "mainrecurso.h"

namespace {
CEntidadLC oEntidad;
}

int main(int argc, char** argv) { return mrecMain(argc, argv, oEntidad, {"LC  ", "/var/kalvesk_%02d.pid"}); }
