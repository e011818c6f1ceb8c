// CCodec: the root of the codec classes. Its reserved operations keep room for kinds of codec to come;
// nothing overrides or calls them.
#pragma once

class CCodec {
public:
    CCodec() = default;
    virtual ~CCodec() = default;
    CCodec(const CCodec&) = delete;
    CCodec& operator=(const CCodec&) = delete;

    virtual bool Reserved1() { return false; }
    virtual bool Reserved2() { return false; }
    virtual bool Reserved3() { return false; }
    virtual int Reserved4() { return -1; }
    virtual int Reserved5() { return -1; }
};
