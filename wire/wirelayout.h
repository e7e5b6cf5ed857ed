// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "wirefields.h"

#include <type_traits>

// A layout is a struct that lists its fields once, in wire order, in a member template
//
//     template <class Fields> void fields(Fields& f) { f.u32("roomId", roomId); f.text(...); }
//
// so that one list serves the writer, the reader and the server's checks. A text field names the
// byte limit, NUL included, that the server holds it to. The layout's place among the packets is
// a static constant: a request declares its RequestCode `code`, a notification its NotifyKind
// `kind`; a reply declares neither.

namespace layout_detail
{
template <class Layout, class = void> constexpr bool isRequest = false;
template <class Layout>
constexpr bool isRequest<Layout, std::void_t<decltype(Layout::code)>> = true;
template <class Layout, class = void> constexpr bool isNotification = false;
template <class Layout>
constexpr bool isNotification<Layout, std::void_t<decltype(Layout::kind)>> = true;

// Appends each field to a frame.
class Writer
{
  public:
    explicit Writer(FrameWriter& out) : out(out) {}
    void u32(const char*, quint32 value) { out.u32(value); }
    void text(const char*, QStringView value, int = maxPayload) { out.str(value); }
    void text(const char*, QByteArrayView utf8, int = maxPayload) { out.bytes(utf8).byte(0); }

  private:
    FrameWriter& out;
};

// Takes each field as it comes; a short packet marks the FieldReader failed.
class Reader
{
  public:
    explicit Reader(FieldReader& in) : in(in) {}
    void u32(const char*, quint32& value) { value = in.u32(); }
    void text(const char*, QString& value, int = maxPayload) { value = in.string(); }
    void text(const char*, QByteArrayView& utf8, int = maxPayload) { utf8 = in.utf8(); }

  private:
    FieldReader& in;
};
} // namespace layout_detail

// Writes the layout's packet into out, which holds nothing yet: a request's code, or a reply's
// type byte, or a notification's type byte and kind; then the fields.
template <class Layout> void writeLayout(FrameWriter& out, Layout layout)
{
    if constexpr (layout_detail::isRequest<Layout>)
        out.u32(Layout::code);
    else if constexpr (layout_detail::isNotification<Layout>)
        out.byte(NotifyPacket).u32(Layout::kind);
    else
        out.byte(ReplyPacket);
    layout_detail::Writer writer(out);
    layout.fields(writer);
}

// The layout's whole frame; check overflowed() when a text may not fit.
template <class Layout> FrameWriter frameOf(const Layout& layout)
{
    FrameWriter out = FrameWriter::blank();
    writeLayout(out, layout);
    return out;
}

template <class Layout> QByteArray frameBytes(const Layout& layout)
{
    return frameOf(layout).toByteArray();
}

// Reads the fields that follow a request's code, a reply's type byte or a notification's kind.
// A short packet yields zeros and empty texts and marks in failed.
template <class Layout> Layout readFields(FieldReader& in)
{
    Layout layout;
    layout_detail::Reader reader(in);
    layout.fields(reader);
    return layout;
}

// Reads a request as the server must take it: the first field that runs past the payload, is a
// text whose UTF-8 bytes and NUL exceed its limit, or is not valid UTF-8 stops the reading, and
// failure() names the field and says why.
class RequestReader
{
  public:
    explicit RequestReader(QByteArrayView payload) : in(payload) {}

    void u32(const char* field, quint32& value);
    void text(const char* field, QString& value, int limit);
    template <class Request> Request read()
    {
        Request request;
        request.fields(*this);
        return request;
    }

    bool failed() const { return !why.isEmpty(); }
    const QString& failure() const { return why; }

  private:
    FieldReader in;
    QString why;
};
