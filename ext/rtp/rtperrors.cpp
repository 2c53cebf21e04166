#include "rtperrors.h"

namespace jrtplib {

namespace {
struct Texto {
    int iCodigo;
    const char *szTexto;
};

const Texto asTextos[] = {
    {ERR_RTP_OUTOFMEM, "Out of memory"},
    {ERR_RTP_SESSION_ALREADYCREATED, "The session is already created"},
    {ERR_RTP_SESSION_NOTCREATED, "The session has not been created"},
    {ERR_RTP_SESSION_TSUNITNOTSET, "The own timestamp unit of the session parameters is not set"},
    {ERR_RTP_SESSION_BADPROTOCOL, "Unknown transmission protocol"},
    {ERR_RTP_SESSION_USERDEFINEDTRANSMITTERNOTSUPPORTED, "User-defined transmitters are not supported"},
    {ERR_RTP_SESSION_NODEFAULTVALUES, "Default payload type, mark or timestamp increment not set"},
    {ERR_RTP_SESSION_PACKETTOOBIG, "The packet would exceed the maximum packet size"},
    {ERR_RTP_SESSION_BADMAXPACKETSIZE, "Maximum packet size out of range"},
    {ERR_RTP_SESSION_BADTRANSMISSIONPARAMS, "Transmission parameters of the wrong kind"},
    {ERR_RTP_UDPV4TRANS_PORTBASENOTEVEN, "The port base must be an even number"},
    {ERR_RTP_UDPV4TRANS_CANTCREATESOCKET, "Cannot create a UDP socket"},
    {ERR_RTP_UDPV4TRANS_CANTBINDRTPSOCKET, "Cannot bind the RTP socket"},
    {ERR_RTP_UDPV4TRANS_CANTBINDRTCPSOCKET, "Cannot bind the RTCP socket"},
    {ERR_RTP_UDPV4TRANS_CANTSETSOCKETOPTION, "Cannot set a socket option"},
    {ERR_RTP_UDPV4TRANS_INVALIDADDRESSTYPE, "The address is not an IPv4 address"},
    {ERR_RTP_UDPV4TRANS_ALREADYINDESTLIST, "The address is already in the destination list"},
    {ERR_RTP_UDPV4TRANS_NOSUCHENTRY, "The address is not in the destination list"},
    {ERR_RTP_UDPV4TRANS_DESTLISTFULL, "The destination list is full"},
    {ERR_RTP_UDPV4TRANS_SENDERROR, "Error while sending a datagram"},
    {ERR_RTP_UDPV4TRANS_RECEIVEERROR, "Error while receiving a datagram"},
    {ERR_RTP_PACKET_INVALIDPACKET, "Invalid RTP packet"},
    {ERR_RTP_RTCPCOMPOUND_INVALIDPACKET, "Invalid RTCP compound packet"},
    {ERR_RTP_SESSION_BADEXTENSION, "Header extension too long"},
    {ERR_RTP_SESSION_NOTSUPPORTED, "Operation not supported"},
    {ERR_RTP_SESSION_BADPAYLOADTYPE, "Payload type above 127 or in the RTCP range 72-76"},
};
}  // namespace

std::string RTPGetErrorString(int errcode)
{
    for (const Texto &t : asTextos)
        if (t.iCodigo == errcode)
            return t.szTexto;
    return "Unknown error code";
}

}  // namespace jrtplib
