/* seam.h -- the one way tests make platform calls fail.
 *
 * Each subsystem makes the platform calls that tests must be able to fail or
 * watch through one table of function pointers (the subsystem's Platform
 * struct), reached through one process-wide Seam; nothing of it shows in the
 * public headers.
 *
 * The system's table is defined constexpr: the compiler makes it complete
 * in the image itself, before any code runs (a test program that copies it
 * into a table of its own at its start copies it whole), and refuses an
 * entry that code would have to fill. Its entries are the platform's
 * functions themselves, which the linker resolves to their import thunks;
 * a function of the library's own stands in a table only where the call
 * needs more than its arguments passed on (fixed arguments, a deprecated
 * call, other types).
 *
 * A test routes a subsystem's calls through its own table for a scope with
 * UsingPlatform, the only way to switch a seam; the table in use before is
 * back when the scope ends. The switch is not synchronised: make it before
 * the calls it is for start, and end it after they end. */
#ifndef TOOLS_BASE_SEAM_H
#define TOOLS_BASE_SEAM_H

namespace tk {

template <class Platform>
class UsingPlatform;

template <class Platform>
class Seam {
public:
    constexpr explicit Seam(const Platform& system) : current_(&system) {}

    const Platform& Calls() const { return *current_; }

private:
    friend class UsingPlatform<Platform>;

    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

    const Platform* current_;
};

/* Routes a seam's calls through a test's table until the scope ends. */
template <class Platform>
class UsingPlatform {
public:
    UsingPlatform(Seam<Platform>& seam, const Platform& platform) : seam_(seam), previous_(seam.current_)
    {
        seam_.current_ = &platform;
    }
    ~UsingPlatform() { seam_.current_ = previous_; }

private:
    UsingPlatform(const UsingPlatform&) = delete;
    UsingPlatform& operator=(const UsingPlatform&) = delete;

    Seam<Platform>& seam_;
    const Platform* previous_;
};

}  // namespace tk

#endif
