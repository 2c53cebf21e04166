// fonmira: the resource process of a telephone or E&M line.
#include "centrec.h"
#include "mainrecurso.h"

namespace {
CEntidadRC oEntidad;  // the telephone entity takes its place once it exists
}

int main(int argc, char** argv) { return mrecMain(argc, argv, oEntidad, {"TLF ", "/var/fonmira_%02d.pid"}); }
