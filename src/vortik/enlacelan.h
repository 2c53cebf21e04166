// Link state of the two Ethernet interfaces, read from their PHYs (MII register 16 of PHY 2).
#pragma once

// Bit 0 eth0 has link, bit 1 eth1 has link, bit 2 always set.
int DameEstadoLan(int iSocket);
// The register's value, -1 on failure; bPrivada: the driver only answers the private requests.
int LeeRegistroMii(int iSocket, int iPhy, int iRegistro, bool bPrivada = false);
// 1 when eth0 has link, else 1 when eth1 has, else 0; -1 when an interface query fails.
int HayEnlaceLan(int iSocket);
