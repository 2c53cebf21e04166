// velkord: the gateway core process.
#include "mainvortik.h"

int main(int argc, char** argv) { return mainVelkord(argc, argv); }
