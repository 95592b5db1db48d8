/* The exception classes and throw helpers, through tools.dll as a host uses
 * them. */
#include <gtest/gtest.h>

#include <string.h>

#include "tools/runtime.h"

namespace {

/* Runs f, which must throw T, and returns what it threw. */
template <typename T, typename F>
T CatchAs(F f)
{
    try {
        f();
    } catch (T e) {
        return e;
    }
    ADD_FAILURE() << "nothing of the expected type was thrown";
    return nullptr;
}

TEST(ThrowException, LongOverloadsKeepTheCodeAndTheLocation)
{
    CException* e = CatchAs<CException*>([] { ThrowException(5L); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(static_cast<long>(*e), 5L);
    EXPECT_EQ(e->m_pszFile, nullptr);
    EXPECT_EQ(e->m_nLine, -1);
    EXPECT_FALSE(e->m_bStatic);
    EXPECT_EQ(e->m_pExceptionPointers, nullptr);
    e->Delete();

    static const char file[] = "src\\main.cpp";
    e = CatchAs<CException*>([] { ThrowException(static_cast<long>(0x80004005), file, 77); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(static_cast<long>(*e), static_cast<long>(0x80004005));
    EXPECT_EQ(e->m_pszFile, file) << "the thrower's text is kept by pointer, not copied";
    EXPECT_EQ(e->m_nLine, 77);
    e->Delete();
}

TEST(ThrowException, IntOverloadsConvertSystemErrorCodes)
{
    struct { int error; long expected; } cases[] = {
        { 0, 0 },
        { 5, static_cast<long>(0x80070005) },
        { 0x12345, static_cast<long>(0x80072345) },
        { -2147024891, static_cast<long>(0x80070005) },
        { -1, -1 },
    };
    for (const auto& c : cases) {
        CException* e = CatchAs<CException*>([&] { ThrowException(c.error); });
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(static_cast<long>(*e), c.expected) << "error " << c.error;
        e->Delete();
        e = CatchAs<CException*>([&] { ThrowException(c.error, "f.cpp", 3); });
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(static_cast<long>(*e), c.expected) << "error " << c.error << " with a location";
        EXPECT_EQ(e->m_nLine, 3);
        e->Delete();
    }
}

TEST(StaticInstances, AreThrownAgainAndAgainWithTheirLocation)
{
    CMemoryException* first = CatchAs<CMemoryException*>([] { ThrowMemoryException("mem.cpp", 12); });
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->m_pszFile, "mem.cpp");
    EXPECT_EQ(first->m_nLine, 12);
    CMemoryException* second = CatchAs<CMemoryException*>([] { ThrowMemoryException(); });
    EXPECT_EQ(second, first) << "one process-wide instance";
    EXPECT_EQ(second->m_pszFile, nullptr) << "the helper without arguments clears the location";
    EXPECT_EQ(second->m_nLine, -1);
    EXPECT_TRUE(second->m_bStatic);
    EXPECT_EQ(static_cast<long>(*second), static_cast<long>(0x8007000E));

    CResourceException* r = CatchAs<CResourceException*>([] { ThrowResourceException("r.cpp", 1); });
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(static_cast<long>(*r), static_cast<long>(0x800705AA));
    EXPECT_EQ(CatchAs<CResourceException*>([] { ThrowResourceException(); }), r);

    CNotImplementedException* n = CatchAs<CNotImplementedException*>([] { ThrowNotImplementedException(); });
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(static_cast<long>(*n), static_cast<long>(0x80004001));
    EXPECT_EQ(CatchAs<CNotImplementedException*>([] { ThrowNotImplementedException("n.cpp", 9); }), n);
    EXPECT_EQ(n->m_nLine, 9);

    EXPECT_NE(static_cast<CException*>(first), static_cast<CException*>(r));
    EXPECT_NE(static_cast<CException*>(r), static_cast<CException*>(n));
}

TEST(StaticInstances, SurviveDeleteOnThemAndOnTheirCopies)
{
    CMemoryException* m = CatchAs<CMemoryException*>([] { ThrowMemoryException(); });
    ASSERT_NE(m, nullptr);
    m->Delete();
    EXPECT_EQ(static_cast<long>(*m), static_cast<long>(0x8007000E));
    CMemoryException* copy = new CMemoryException(*m);
    EXPECT_TRUE(copy->m_bStatic) << "a copy of a static instance is itself never freed";
    copy->Delete();
    EXPECT_EQ(static_cast<long>(*copy), static_cast<long>(0x8007000E));
    delete copy;
    EXPECT_EQ(CatchAs<CMemoryException*>([] { ThrowMemoryException(); }), m);
}

TEST(Catching, SelectsByTheStaticTypeOfThePointer)
{
    bool resourceHandlerRan = false;
    bool baseHandlerRan = false;
    try {
        try {
            ThrowMemoryException();
        } catch (CResourceException*) {
            resourceHandlerRan = true;
        }
    } catch (CException* e) {
        baseHandlerRan = true;
        EXPECT_EQ(static_cast<long>(*e), static_cast<long>(0x8007000E));
    }
    EXPECT_FALSE(resourceHandlerRan);
    EXPECT_TRUE(baseHandlerRan);
    EXPECT_NE(CatchAs<CException*>([] { ThrowResourceException(); }), nullptr);
    EXPECT_NE(CatchAs<CException*>([] { ThrowNotImplementedException(); }), nullptr);
}

TEST(Constructors, GiveTheDocumentedFields)
{
    CException plain;
    EXPECT_EQ(static_cast<long>(plain), 1L);
    EXPECT_FALSE(plain.m_bStatic);
    EXPECT_EQ(plain.m_nLine, -1);

    CException located(true, 7L, "x.cpp", 4);
    EXPECT_TRUE(located.m_bStatic);
    EXPECT_EQ(located.m_hr, 7L);
    EXPECT_STREQ(located.m_pszFile, "x.cpp");
    EXPECT_EQ(located.m_nLine, 4);

    CException assigned;
    assigned = located;
    EXPECT_TRUE(assigned.m_bStatic);
    EXPECT_EQ(assigned.m_pszFile, located.m_pszFile);
    assigned.Locate("y.cpp", 8);
    EXPECT_STREQ(assigned.m_pszFile, "y.cpp");
    EXPECT_EQ(assigned.m_nLine, 8);
    EXPECT_STREQ(located.m_pszFile, "x.cpp");

    CResourceException ownResource;
    EXPECT_TRUE(ownResource.m_bStatic) << "the fixed-code classes are static even when a host makes one";
    CNotImplementedException ownNotImplemented;
    EXPECT_TRUE(ownNotImplemented.m_bStatic);
}

TEST(Constructors, FromAFaultRecord)
{
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = 1;
    record.ExceptionInformation[1] = 0x1234ABCD;
    CONTEXT context = {};
    context.ContextFlags = 0x10007;
    EXCEPTION_POINTERS pointers = { &record, &context };

    CException borrowed(&pointers);
    EXPECT_EQ(borrowed.m_hr, static_cast<long>(0xC0000005));
    EXPECT_EQ(borrowed.m_pExceptionPointers, &pointers);

    CRunTimeException* kept = new CRunTimeException(&pointers);
    EXPECT_EQ(kept->m_hr, static_cast<long>(0xC0000005));
    ASSERT_NE(kept->m_pExceptionPointers, nullptr);
    EXPECT_NE(kept->m_pExceptionPointers, &pointers) << "the record is copied, not borrowed";
    record.ExceptionInformation[1] = 0;   /* the system reuses its storage */
    context.ContextFlags = 0;
    EXPECT_EQ(kept->m_pExceptionPointers->ExceptionRecord->ExceptionInformation[1], 0x1234ABCDu);
    EXPECT_EQ(kept->m_pExceptionPointers->ContextRecord->ContextFlags, 0x10007u);

    CRunTimeException copy(*kept);
    /* A plain copy cannot own a record: it keeps none, rather than one that
     * dies with its source, whichever way it is copied. */
    CException plain(*kept);
    CException assigned;
    assigned = *kept;
    EXPECT_EQ(plain.m_pExceptionPointers, nullptr);
    EXPECT_EQ(assigned.m_pExceptionPointers, nullptr);
    EXPECT_EQ(plain.m_hr, static_cast<long>(0xC0000005));
    kept->Delete();
    ASSERT_NE(copy.m_pExceptionPointers, nullptr);
    EXPECT_EQ(copy.m_pExceptionPointers->ExceptionRecord->ExceptionInformation[0], 1u)
        << "a copy owns its record and outlives its source";
    char text[256];
    EXPECT_GT(plain.GetErrorMessage(text, sizeof text), 0);
    EXPECT_EQ(strstr(text, "0x"), nullptr) << "no address without a record: " << text;
    CException borrowedCopy(borrowed);
    EXPECT_EQ(borrowedCopy.m_pExceptionPointers, &pointers) << "a borrowed record stays borrowed";
    copy = copy;
    EXPECT_NE(copy.m_pExceptionPointers, nullptr) << "assignment to itself keeps the record";
    static_cast<CException&>(copy) = copy;
    EXPECT_NE(copy.m_pExceptionPointers, nullptr);

    CRunTimeException none(nullptr);
    EXPECT_EQ(none.m_hr, static_cast<long>(0x80004003));
    EXPECT_EQ(none.m_pExceptionPointers, nullptr);
}

TEST(Translator, ThrowsARunTimeExceptionThatOwnsItsRecord)
{
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = { &record, &context };
    CRunTimeException* e = CatchAs<CRunTimeException*>([&] { TkSeTranslator(0, &pointers); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(static_cast<long>(*e), -1073741676L);
    EXPECT_NE(e->m_pExceptionPointers, &pointers);
    EXPECT_EQ(e->m_pszFile, nullptr);
    EXPECT_EQ(e->m_nLine, -1);
    e->Delete();
}

}  // namespace
