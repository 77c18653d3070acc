// A small object wrapper over the expat parser: start tag, end tag,
// character data and entity declarations are delivered to function objects.
#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <expat.h>

#include <exception>

namespace kw {

typedef void ExpatStartFunction(const char* name, const char** attributes);
typedef void ExpatEndFunction(const char* name);
typedef void ExpatTextFunction(const char* data, int length);
typedef void ExpatEntityFunction(const char* name);

class ExpatWrapper {
public:
    ExpatWrapper();
    ExpatWrapper(const ExpatWrapper&) = delete;
    ExpatWrapper& operator=(const ExpatWrapper&) = delete;

    void SetElementHandler(const boost::function<ExpatStartFunction>& start, const boost::function<ExpatEndFunction>& end);
    void SetCharacterDataHandler(const boost::function<ExpatTextFunction>& text);
    void SetEntityDeclarationHandler(const boost::function<ExpatEntityFunction>& declared);
    // XML_Parse; an exception that a handler raised is raised again here.
    XML_Status Parse(const char* data, int length, bool isFinal);
    XML_Parser GetParser() const { return parser_; }

private:
    template <class F, class... Args>
    static void Dispatch(void* userData, boost::function<F> ExpatWrapper::*handler, Args... args);
    static void XMLCALL OnStart(void* userData, const XML_Char* name, const XML_Char** attributes);
    static void XMLCALL OnEnd(void* userData, const XML_Char* name);
    static void XMLCALL OnText(void* userData, const XML_Char* data, int length);
    static void XMLCALL OnEntityDeclaration(void* userData, const XML_Char* name, int isParameterEntity,
                                            const XML_Char* value, int valueLength, const XML_Char* base,
                                            const XML_Char* systemId, const XML_Char* publicId,
                                            const XML_Char* notationName);

    XML_Parser parser_;
    boost::shared_ptr<XML_ParserStruct> owner_;
    boost::function<ExpatStartFunction> onStart_;
    boost::function<ExpatEndFunction> onEnd_;
    boost::function<ExpatTextFunction> onText_;
    boost::function<ExpatEntityFunction> onEntityDeclaration_;
    // An exception from a handler, kept while expat's C frames unwind.
    std::exception_ptr kept_;
};

} // namespace kw
