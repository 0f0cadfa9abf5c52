# Installation of the three libraries for use outside this build tree:
#   <prefix>/include/zel/...               the public headers of every component
#   <libdir>/libzel_{core,neural,compiler,chem}.a
#   <libdir>/cmake/zel/                    the CMake package: find_package(zel 0.1 CONFIG)
#   <libdir>/pkgconfig/zel.pc              the same for pkg-config users
#   <bindir>/kvt_run                       the program

include(CMakePackageConfigHelpers)

set(ZEL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zel
    CACHE STRING "Where the CMake package files are installed, relative to the prefix")

# zel-chem is built with ZEL_BUILD_CHEM (the default).
set(zel_installed_libraries zel_core zel_neural zel_compiler)
set(zel_installed_components core neural compiler)
set(ZEL_PC_CHEM_LIBS "")
set(ZEL_PC_CHEM_NAME "")
set(ZEL_PC_CHEM_DEPS "")
if(TARGET zel_chem)
    list(APPEND zel_installed_libraries zel_chem)
    list(APPEND zel_installed_components chem)
    # zel-chem comes with zel-neural's optimisers, which link NLopt.
    set(ZEL_PC_CHEM_LIBS "-lzel_chem ")
    set(ZEL_PC_CHEM_DEPS " -lnlopt")
    set(ZEL_PC_CHEM_NAME ", zel-chem")
endif()

install(TARGETS ${zel_installed_libraries}
    EXPORT zelTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(TARGETS kvt_run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# zel-mpi (ZEL_BUILD_MPI): libzel_mpi.a and its headers, exported as zel::mpi with the others.
if(TARGET zel_mpi)
    install(TARGETS zel_mpi
        EXPORT zelTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    # With zel-chem also zel::mpi_chem: the VQE solvers on distributed states (zel/mpi/vqe.hpp).
    if(TARGET zel_mpi_chem)
        install(TARGETS zel_mpi_chem
            EXPORT zelTargets
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    endif()
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/zel-mpi/include/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.hpp")
    set(ZEL_CONFIG_WITH_MPI TRUE)
else()
    set(ZEL_CONFIG_WITH_MPI FALSE)
endif()

foreach(component IN LISTS zel_installed_components)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/zel-${component}/include/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.hpp")
endforeach()

# Imported targets zel::core, zel::neural, zel::compiler and zel::chem (the EXPORT_NAMEs of the
# libraries).
install(EXPORT zelTargets
    NAMESPACE zel::
    FILE zelTargets.cmake
    DESTINATION ${ZEL_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/zelConfig.cmake
    INSTALL_DESTINATION ${ZEL_INSTALL_CMAKEDIR})

# Before 1.0 a minor release may change the interface, so a request for 0.1 accepts 0.1.x only.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zelConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMinorVersion)

install(FILES ${PROJECT_BINARY_DIR}/zelConfig.cmake ${PROJECT_BINARY_DIR}/zelConfigVersion.cmake
    DESTINATION ${ZEL_INSTALL_CMAKEDIR})

# pkg-config file. Its prefix is found relative to the file itself (${pcfiledir}), so the
# installed tree stays valid for `cmake --install --prefix <dir>` and when moved as a whole.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(ZEL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    set(ZEL_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
    string(REGEX REPLACE "[^/]+" ".." zel_pc_up "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
    set(ZEL_PC_PREFIX "\${pcfiledir}/${zel_pc_up}")
    set(ZEL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(ZEL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
    set(ZEL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
# The worker pool runs on std::thread: users compile and link with -pthread.
set(ZEL_PC_THREAD_FLAGS "-pthread")
configure_file(${CMAKE_CURRENT_LIST_DIR}/zel.pc.in ${PROJECT_BINARY_DIR}/zel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
