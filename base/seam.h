/* seam.h -- the one way tests make platform calls fail.
 *
 * Each subsystem makes the platform calls that tests must be able to fail or
 * watch through one table of function pointers (the subsystem's Platform
 * struct), reached through one process-wide Seam. The seam starts on the
 * system's table, which is constant, so that it is complete before any static
 * constructor runs; nothing in the public headers shows it.
 *
 * A test routes a subsystem's calls through its own table for a scope with
 * UsingPlatform. The switch is not synchronised: make it before the calls it
 * is for start, and end it after they end. */
#ifndef TOOLS_BASE_SEAM_H
#define TOOLS_BASE_SEAM_H

namespace tk {

template <class Platform>
class Seam {
public:
    constexpr explicit Seam(const Platform& system) : system_(&system), current_(&system) {}

    const Platform& Calls() const { return *current_; }
    /* The given table, or the system's again for null. */
    void Use(const Platform* platform) { current_ = platform ? platform : system_; }

private:
    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

    const Platform* system_;
    const Platform* current_;
};

/* Routes a seam's calls through a test's table until the scope ends. */
template <class Platform>
class UsingPlatform {
public:
    UsingPlatform(Seam<Platform>& seam, const Platform& platform) : seam_(seam) { seam_.Use(&platform); }
    ~UsingPlatform() { seam_.Use(nullptr); }

private:
    UsingPlatform(const UsingPlatform&) = delete;
    UsingPlatform& operator=(const UsingPlatform&) = delete;

    Seam<Platform>& seam_;
};

}  // namespace tk

#endif
