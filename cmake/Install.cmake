# Installs the library, its public headers, an exported CMake package (find_package(Trelis),
# target Trelis::trelis) and a pkg-config file (trelis.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

file(GLOB TRELIS_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/*.h)
install(TARGETS trelis EXPORT TrelisTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TRELIS_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/trelis)

set(TRELIS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Trelis)
install(EXPORT TrelisTargets NAMESPACE Trelis:: DESTINATION ${TRELIS_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TrelisConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/TrelisConfig.cmake
                              INSTALL_DESTINATION ${TRELIS_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TrelisConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TrelisConfig.cmake ${PROJECT_BINARY_DIR}/TrelisConfigVersion.cmake
        DESTINATION ${TRELIS_CMAKE_DIR})

# The pkg-config file finds its prefix relative to itself, so the installed tree can be moved and
# `cmake --install --prefix` works whatever prefix was configured.
file(RELATIVE_PATH TRELIS_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(${PROJECT_SOURCE_DIR}/cmake/trelis.pc.in ${PROJECT_BINARY_DIR}/trelis.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/trelis.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
