#include "ExpatWrapper.h"

#include <kw/xml/XmlException.h>

namespace kw {

ExpatWrapper::ExpatWrapper()
    : parser_(XML_ParserCreate(nullptr))
{
    if (!parser_) KW_RAISE(xml::XmlException("parser creation error"), "kw::ExpatWrapperImpl::ExpatWrapperImpl");
    owner_.reset(parser_, XML_ParserFree);
    // Expat's protection against entity amplification stays at its defaults.
    XML_SetUserData(parser_, this);
}

void ExpatWrapper::SetElementHandler(const boost::function<ExpatStartFunction>& start,
                                     const boost::function<ExpatEndFunction>& end)
{
    onStart_ = start;
    onEnd_ = end;
    XML_SetElementHandler(parser_, &OnStart, &OnEnd);
}

void ExpatWrapper::SetCharacterDataHandler(const boost::function<ExpatTextFunction>& text)
{
    onText_ = text;
    XML_SetCharacterDataHandler(parser_, &OnText);
}

void ExpatWrapper::SetEntityDeclarationHandler(const boost::function<ExpatEntityFunction>& declared)
{
    onEntityDeclaration_ = declared;
    XML_SetEntityDeclHandler(parser_, &OnEntityDeclaration);
}

XML_Status ExpatWrapper::Parse(const char* data, int length, bool isFinal)
{
    const XML_Status status = XML_Parse(parser_, data, length, isFinal ? XML_TRUE : XML_FALSE);
    // The parser stays stopped, so every later call reports the same cause.
    if (status == XML_STATUS_ERROR && kept_) std::rethrow_exception(kept_);
    return status;
}

// Exceptions must not unwind through expat's C frames: the first one stops
// the parser and is kept until XML_Parse has returned.
template <class F, class... Args>
void ExpatWrapper::Dispatch(void* userData, boost::function<F> ExpatWrapper::*handler, Args... args)
{
    ExpatWrapper& self = *static_cast<ExpatWrapper*>(userData);
    if (self.kept_ || !(self.*handler)) return;
    try {
        (self.*handler)(args...);
    } catch (...) {
        self.kept_ = std::current_exception();
        XML_StopParser(self.parser_, XML_FALSE);
    }
}

void XMLCALL ExpatWrapper::OnStart(void* userData, const XML_Char* name, const XML_Char** attributes)
{
    Dispatch(userData, &ExpatWrapper::onStart_, name, attributes);
}

void XMLCALL ExpatWrapper::OnEnd(void* userData, const XML_Char* name)
{
    Dispatch(userData, &ExpatWrapper::onEnd_, name);
}

void XMLCALL ExpatWrapper::OnText(void* userData, const XML_Char* data, int length)
{
    Dispatch(userData, &ExpatWrapper::onText_, data, length);
}

void XMLCALL ExpatWrapper::OnEntityDeclaration(void* userData, const XML_Char* name, int /*isParameterEntity*/,
                                                const XML_Char* /*value*/, int /*valueLength*/,
                                                const XML_Char* /*base*/, const XML_Char* /*systemId*/,
                                                const XML_Char* /*publicId*/, const XML_Char* /*notationName*/)
{
    Dispatch(userData, &ExpatWrapper::onEntityDeclaration_, name);
}

} // namespace kw
