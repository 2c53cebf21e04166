// RTCP source description (RFC 3550 section 6.5): chunks of items, walked with cursors.
#ifndef JRTP_RTCPSDESPACKET_H
#define JRTP_RTCPSDESPACKET_H

#include "rtcppacket.h"
#include "rtpendian.h"

namespace jrtplib {

class RTCPSDESPacket : public RTCPPacket {
public:
    enum ItemType { None, CNAME, NAME, EMAIL, PHONE, LOC, TOOL, NOTE, PRIV, Unknown };

    RTCPSDESPacket(uint8_t *d, size_t len, size_t contentlen) : RTCPPacket(SDES, d, len, contentlen)
    {
        knownformat = Validate();
    }

    int GetChunkCount() const { return knownformat ? Count() : 0; }
    bool GotoFirstChunk()
    {
        if (GetChunkCount() == 0)
            return false;
        cursor1 = 4;
        cursor2 = 0;
        return true;
    }
    bool GotoNextChunk()
    {
        if (cursor1 == 0)
            return false;
        size_t fin = ChunkEnd(cursor1);
        if (fin >= contentlength) {
            cursor1 = 0;
            return false;
        }
        cursor1 = fin;
        cursor2 = 0;
        return true;
    }
    uint32_t GetChunkSSRC() const { return cursor1 ? rtpLee32(data + cursor1) : 0; }
    bool GotoFirstItem()
    {
        if (cursor1 == 0 || data[cursor1 + 4] == 0)
            return false;
        cursor2 = cursor1 + 4;
        return true;
    }
    bool GotoNextItem()
    {
        if (cursor2 == 0)
            return false;
        size_t sig = cursor2 + 2 + data[cursor2 + 1];
        if (data[sig] == 0) {
            cursor2 = 0;
            return false;
        }
        cursor2 = sig;
        return true;
    }
    ItemType GetItemType() const
    {
        if (cursor2 == 0)
            return None;
        uint8_t t = data[cursor2];
        return t <= 8 ? ItemType(t) : Unknown;
    }
    size_t GetItemLength() const { return cursor2 ? data[cursor2 + 1] : 0; }
    uint8_t *GetItemData() const { return cursor2 ? data + cursor2 + 2 : nullptr; }

private:
    // Offset just past the chunk at off (END item and padding to 32 bits included). Validate
    // has checked that the chunks fill the packet exactly.
    size_t ChunkEnd(size_t off) const
    {
        size_t i = off + 4;
        while (data[i] != 0)
            i += 2 + data[i + 1];
        return (i + 4) & ~size_t(3);
    }
    bool Validate() const
    {
        size_t off = 4;
        for (int c = 0; c < Count(); c++) {
            if (off + 4 > contentlength)
                return false;
            size_t i = off + 4;
            for (;;) {
                if (i >= contentlength)
                    return false;
                if (data[i] == 0)
                    break;
                if (i + 2 > contentlength || i + 2 + data[i + 1] > contentlength)
                    return false;
                i += 2 + data[i + 1];
            }
            size_t fin = (i + 4) & ~size_t(3);
            if (fin > contentlength)
                return false;
            off = fin;
        }
        return off == contentlength;
    }
};

}  // namespace jrtplib

using jrtplib::RTCPSDESPacket;

#endif
