// Collateral targets of a resource (radio emplacements, remote SIP user of a line). This build
// holds none; the targets come with the collateral supervision.
#pragma once

class CSupervisorRecurso;

class CColateral {
public:
    explicit CColateral(CSupervisorRecurso* poSuper) : poSupervisor(poSuper) {}
    // 1 when at least one target is configured.
    int HayColaterales() const { return 0; }

private:
    CSupervisorRecurso* poSupervisor;
};
