// Comparison of configuration records and plan entries. Each cfgIgual... returns 1 when equal
// and 0 when different, logging the first difference (with the second argument's value); each
// cfgDistinto... returns the negation. Counts read from an image are bounded by their lists.
#pragma once

#include "cfg/cfgpasarela.h"

int cfgIgualRecurso(const cfgConfigRecurso* a, const cfgConfigRecurso* b);
int cfgDistintoRecurso(const cfgConfigRecurso* a, const cfgConfigRecurso* b);
int cfgIgualGeneralRecurso(const cfgConfigRecurso* a, const cfgConfigRecurso* b);
int cfgDistintoGeneralRecurso(const cfgConfigRecurso* a, const cfgConfigRecurso* b);
// 1 when the collateral parameters (session priority, emplacement URIs) of a radio differ.
int cfgDistintoColateral(const cfgConfigRecurso* a, const cfgConfigRecurso* b);

int cfgIgualRadio(const cfgParamRadio* a, const cfgParamRadio* b);
int cfgDistintoRadio(const cfgParamRadio* a, const cfgParamRadio* b);
int cfgIgualLinea(const cfgParamTlf* a, const cfgParamTlf* b);
int cfgDistintoLinea(const cfgParamTlf* a, const cfgParamTlf* b);
int cfgIgualR2N5(const cfgParamR2N5* a, const cfgParamR2N5* b);
int cfgDistintoR2N5(const cfgParamR2N5* a, const cfgParamR2N5* b);
int cfgIgualQsig(const cfgParamQsig* a, const cfgParamQsig* b);
int cfgDistintoQsig(const cfgParamQsig* a, const cfgParamQsig* b);

int cfgIgualPlanAts(const Central* a, const Central* b);
int cfgDistintoPlanAts(const Central* a, const Central* b);
int cfgIgualRango(const Rango* a, const Rango* b);
int cfgDistintoRango(const Rango* a, const Rango* b);
int cfgIgualAbonado(const Abonado* a, const Abonado* b);
int cfgDistintoAbonado(const Abonado* a, const Abonado* b);
int cfgIgualRuta(const Ruta* a, const Ruta* b);
int cfgDistintoRuta(const Ruta* a, const Ruta* b);
int cfgIgualMiembro(const Miembro* a, const Miembro* b);
int cfgDistintoMiembro(const Miembro* a, const Miembro* b);
int cfgIgualDireccionIp(const DireccionIp* a, const DireccionIp* b);
int cfgDistintoDireccionIp(const DireccionIp* a, const DireccionIp* b);
int cfgIgualTroncal(const Troncal* a, const Troncal* b);
int cfgDistintoTroncal(const Troncal* a, const Troncal* b);
int cfgIgualRed(const Red* a, const Red* b);
int cfgDistintoRed(const Red* a, const Red* b);
int cfgIgualAsignacionUsuario(const AsignacionUsuario* a, const AsignacionUsuario* b);
int cfgDistintoAsignacionUsuario(const AsignacionUsuario* a, const AsignacionUsuario* b);
int cfgIgualAsignacionRecurso(const AsignacionRecurso* a, const AsignacionRecurso* b);
int cfgDistintoAsignacionRecurso(const AsignacionRecurso* a, const AsignacionRecurso* b);
int cfgIgualDireccionSip(const DireccionSip* a, const DireccionSip* b);
int cfgDistintoDireccionSip(const DireccionSip* a, const DireccionSip* b);
